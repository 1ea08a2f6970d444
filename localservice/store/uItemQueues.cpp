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
    bool Released = false;
    if (FShutdown || !Queue.Items.empty()) {
        // Ready without waiting.
    } else if (AWait.count() <= 0) {
        return TTakeResult::Timeout;
    } else if (FWaiters >= FMaxWaiters) {
        return TTakeResult::Busy;
    } else {
        TReceiver& Receiver = FReceivers[AReceiver];
        const unsigned long long Releases = Receiver.Releases;
        ++Receiver.Waiting;
        ++FWaiters;
        // The map's nodes stay where they are while other receivers come and go.
        Queue.Changed.wait_for(Guard, AWait, [&] {
            return FShutdown || Receiver.Releases != Releases || !Queue.Items.empty();
        });
        --FWaiters;
        Released = Receiver.Releases != Releases;
        if (--Receiver.Waiting == 0) {
            FReceivers.erase(AReceiver);
        }
    }
    if (FShutdown) {
        return TTakeResult::ShuttingDown;
    }
    if (Released || Queue.Items.empty()) {
        return TTakeResult::Timeout;
    }
    AItem = std::move(Queue.Items.front());
    Queue.Items.pop_front();
    Queue.Bytes -= AItem.Body.size();
    return TTakeResult::Item;
}

void TItemQueues::Release(const std::string& AAccount, const std::string& AReceiver) {
    std::lock_guard Guard(FLock);
    // Only its polls waiting now end; one that starts later waits as usual.
    if (const auto It = FReceivers.find(AReceiver); It != FReceivers.end()) {
        ++It->second.Releases;
        FQueues[AAccount].Changed.notify_all();
    }
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

size_t TItemQueues::ReceiversWaiting() const {
    std::lock_guard Guard(FLock);
    return FReceivers.size();
}
