#include "firmware/download_status.h"

#include "base/text.h"

std::string ProgressText(int secondsLeft, int percent) {
    const int a = secondsLeft;
    return StrFormat("%d%% (%02d:%02d:%02d left)", percent, a / 3600, a / 60 - (a / 3600) * 60,
                     a % 60);
}
