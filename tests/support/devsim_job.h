#pragma once

#include <string>

#include "support/devsim_process.h"
#include "upgrade/upgrade_manager_link.h"

// An upgrade of the simulated device `id` over plain HTTP on loopback, with devsim's
// default log-in and one image, as the dispatch hands it over.
inline JobRequest DevsimJob(const DevsimProcess& sim, const std::string& id,
                            const std::string& image) {
    JobRequest r;
    r.Scheme = "http";
    r.DeviceId = id;
    r.Host = "127.0.0.1";
    r.Port = sim.DeviceById(id).HttpPort;
    r.UserName = "admin";
    r.Password = "vqmtz";
    r.ImageQueue = {image};
    r.RunFlag = 1;
    return r;
}
