#include "store/uItemQueues.h"

#include <iostream>

bool TItemQueues::Load() {
    const auto Items = FStore.WaitingItems();
    if (!Items) {
        return false;
    }
    std::lock_guard Guard(FLock);
    for (const TStoredItem& Item : *Items) {
        TQueue& Queue = FQueues[Item.Account];
        ++Queue.Count;
        Queue.Bytes += Item.Size;
        Queue.Items.push_back(Item);
    }
    return true;
}

TItemQueues::TPushResult TItemQueues::Push(const std::string& AAccount,
                                           const TTransferItem& AItem) {
    const unsigned long long Size = AItem.Body.size();
    {
        std::lock_guard Guard(FLock);
        TQueue& Queue = FQueues[AAccount];
        if (Queue.Count >= kMaxItemsPerAccount) {
            return TPushResult::TooManyItems;
        }
        if (Queue.Bytes + Size > FMaxBytesPerAccount) {
            return TPushResult::TooManyBytes;
        }
        ++Queue.Count;
        Queue.Bytes += Size;
    }
    // Stored without the lock: other accounts' sends and every poll go on meanwhile.
    const auto Id = FStore.AddItem(AAccount, AItem.Filename, AItem.ContentType, AItem.Body);
    std::lock_guard Guard(FLock);
    TQueue& Queue = FQueues[AAccount];
    if (!Id) {
        --Queue.Count;
        Queue.Bytes -= Size;
        return TPushResult::NotStored;
    }
    Queue.Items.push_back({*Id, AAccount, AItem.Filename, AItem.ContentType, Size});
    Queue.Changed.notify_all();
    return TPushResult::Queued;
}

TItemQueues::TTakeResult TItemQueues::Take(const std::string& AAccount,
                                           const std::string& AReceiver,
                                           std::chrono::milliseconds AWait, TStoredItem& AItem) {
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
    return TTakeResult::Item;
}

std::optional<std::string> TItemQueues::Body(const TStoredItem& AItem) {
    return FStore.ItemBody(AItem.Id);
}

void TItemQueues::Delivered(const TStoredItem& AItem) {
    // Should the store fail here, the item stays in it and comes again after a restart: a
    // second copy is better than a lost photo.
    if (!FStore.RemoveItem(AItem.Id)) {
        std::cerr << "scanlume-local: a received item stays in the store\n";
    }
    std::lock_guard Guard(FLock);
    TQueue& Queue = FQueues[AItem.Account];
    --Queue.Count;
    Queue.Bytes -= AItem.Size;
}

void TItemQueues::PutBack(const TStoredItem& AItem) {
    std::lock_guard Guard(FLock);
    TQueue& Queue = FQueues[AItem.Account];
    Queue.Items.push_front(AItem);
    Queue.Changed.notify_all();
}

void TItemQueues::PutLast(const TStoredItem& AItem) {
    std::lock_guard Guard(FLock);
    TQueue& Queue = FQueues[AItem.Account];
    Queue.Items.push_back(AItem);
    Queue.Changed.notify_all();
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
