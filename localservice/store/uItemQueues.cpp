#include "store/uItemQueues.h"

TItemQueues::TPushResult TItemQueues::Push(const std::string& AAccount, TTransferItem AItem) {
    std::lock_guard Guard(FLock);
    TQueue& Queue = FQueues[AAccount];
    if (Queue.Items.size() >= kMaxItemsPerAccount) {
        return TPushResult::TooManyItems;
    }
    if (Queue.Bytes + AItem.Body.size() > FMaxBytesPerAccount) {
        return TPushResult::TooManyBytes;
    }
    Queue.Bytes += AItem.Body.size();
    Queue.Items.push_back(std::move(AItem));
    Queue.Changed.notify_all();
    return TPushResult::Queued;
}

void TItemQueues::PutBack(const std::string& AAccount, TTransferItem AItem) {
    std::lock_guard Guard(FLock);
    TQueue& Queue = FQueues[AAccount];
    Queue.Bytes += AItem.Body.size();
    Queue.Items.push_front(std::move(AItem));
    Queue.Changed.notify_all();
}

TItemQueues::TTakeResult TItemQueues::Take(const std::string& AAccount,
                                           const std::string& AReceiver,
                                           std::chrono::milliseconds AWait, TTransferItem& AItem) {
    std::unique_lock Guard(FLock);
    TQueue& Queue = FQueues[AAccount];
    const unsigned long long Releases = FReleases[AReceiver];
    const auto Released = [&] { return FReleases[AReceiver] != Releases; };
    const auto Ready = [&] { return FShutdown || Released() || !Queue.Items.empty(); };
    if (!Ready()) {
        if (AWait.count() <= 0) {
            return TTakeResult::Timeout;
        }
        if (FWaiters >= FMaxWaiters) {
            return TTakeResult::Busy;
        }
        ++FWaiters;
        Queue.Changed.wait_for(Guard, AWait, Ready);
        --FWaiters;
    }
    if (FShutdown) {
        return TTakeResult::ShuttingDown;
    }
    if (Released() || Queue.Items.empty()) {
        return TTakeResult::Timeout;
    }
    AItem = std::move(Queue.Items.front());
    Queue.Items.pop_front();
    Queue.Bytes -= AItem.Body.size();
    return TTakeResult::Item;
}

void TItemQueues::Release(const std::string& AAccount, const std::string& AReceiver) {
    std::lock_guard Guard(FLock);
    ++FReleases[AReceiver];
    FQueues[AAccount].Changed.notify_all();
}

void TItemQueues::Shutdown() {
    std::lock_guard Guard(FLock);
    FShutdown = true;
    for (auto& Entry : FQueues) {
        Entry.second.Changed.notify_all();
    }
}

size_t TItemQueues::Pending(const std::string& AAccount) const {
    std::lock_guard Guard(FLock);
    const auto It = FQueues.find(AAccount);
    return It == FQueues.end() ? 0 : It->second.Items.size();
}
