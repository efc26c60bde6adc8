#include "core/change_mailbox.h"

#include <algorithm>

bool ChangeMailbox::post(int code) {
    plat::Locker<plat::Mutex> lock(mutex_);
    const auto at = std::find(waiting_.begin(), waiting_.end(), code);
    const bool fresh = at == waiting_.end();
    if (!fresh) waiting_.erase(at);
    waiting_.push_back(code);
    return fresh;
}

bool ChangeMailbox::take(int* code) {
    plat::Locker<plat::Mutex> lock(mutex_);
    if (waiting_.empty()) return false;
    *code = waiting_.front();
    waiting_.erase(waiting_.begin());
    return true;
}

void ChangeMailbox::drop(int code) {
    plat::Locker<plat::Mutex> lock(mutex_);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), code), waiting_.end());
}

size_t ChangeMailbox::waiting() const {
    plat::Locker<plat::Mutex> lock(mutex_);
    return waiting_.size();
}
