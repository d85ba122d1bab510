#include "firmware/download_job.h"

#include "base/saturating.h"

int64_t CDownloadJob::BytesAfter(size_t index) const {
    int64_t later = 0;
    for (size_t i = index + 1; i < Items.size(); ++i) later = SaturatingAdd(later, Items[i].Size);
    return later;
}
