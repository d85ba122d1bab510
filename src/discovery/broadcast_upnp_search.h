#pragma once

#include "discovery/multicast_search.h"
#include "discovery/search.h"

// The other engine families of the search tree. This program builds no broadcast or
// UPnP transport: the classes stay abstract and nothing creates them.
class CBroadcastSearch : public CSearch {};
class CBCBroadcastSearch : public CBroadcastSearch {};
class CBCUPnPSearch : public CMulticastSearch {};
