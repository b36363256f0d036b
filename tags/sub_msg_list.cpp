#include "tags/sub_msg_list.h"

#include <deque>
#include <mutex>

#include "platform/wake_signal.h"

namespace {
std::mutex SubMsgListMutex;
std::deque<TimedSubGMsg> SubMsgList;  // under SubMsgListMutex
uint64_t RecordsReceived = 0;          // under SubMsgListMutex
WakeSignal TagDataAdded;
}  // namespace

int AddTagData(const TimedSubGMsg& msg) {
    {
        std::lock_guard<std::mutex> lock(SubMsgListMutex);
        if (SubMsgList.size() >= kSubMsgListLimit) return 0;
        SubMsgList.push_back(msg);
        ++RecordsReceived;
    }
    TagDataAdded.Raise();
    return 1;
}

int TakeTagData(TimedSubGMsg* out) {
    std::lock_guard<std::mutex> lock(SubMsgListMutex);
    if (SubMsgList.empty()) return 0;
    *out = SubMsgList.front();
    SubMsgList.pop_front();
    return 1;
}

size_t SubMsgListSize() {
    std::lock_guard<std::mutex> lock(SubMsgListMutex);
    return SubMsgList.size();
}

uint64_t TagRecordsReceived() {
    std::lock_guard<std::mutex> lock(SubMsgListMutex);
    return RecordsReceived;
}

bool WaitForTagData(long long micros) { return TagDataAdded.WaitFor(micros); }
