#pragma once
// Change codes on their way from the worker threads to the GUI thread. A screen's refresh
// reads the RAM when it runs, so one waiting code stands for every change of its kind made
// before it is taken: a code that is already waiting is not queued again. It moves behind
// the codes that came after it instead, so the GUI takes the codes in the order of their
// newest post (a stick plugged, pulled and plugged again ends as plugged). However fast a PC
// makes the managers post, no more codes wait than there are distinct codes.
#include <QMetaObject>
#include <QObject>

#include <cstddef>
#include <vector>

#include "platform/annotated_mutex.h"

class ChangeMailbox {
public:
    // True when `code` was not waiting: the caller then wakes the taker once for it.
    bool post(int code) EXCLUDES(mutex_);
    // The oldest waiting code, no longer waiting; false when none waits. A code posted after
    // this is queued again: the refresh that follows may have read the RAM before its change.
    bool take(int* code) EXCLUDES(mutex_);
    size_t waiting() const EXCLUDES(mutex_);
    // From any thread: `code` waits here once. A code not yet waiting queues one call on
    // `receiver`'s thread, which takes the oldest waiting code and hands it to serve(code):
    // every post to one mailbox names the same receiver and serve.
    // A call that cannot be queued (no receiver yet: a worker's post before the application
    // object exists) leaves the code not waiting, so the next post of it wakes the taker.
    template <class Serve>
    void postTo(QObject* receiver, int code, Serve serve) {
        if (post(code) && !QMetaObject::invokeMethod(
                              receiver, [this, serve] {
                                  int next = 0;
                                  if (take(&next)) serve(next);
                              },
                              Qt::QueuedConnection))
            drop(code);
    }
    // `code` no longer waiting (a post whose wake could not be queued).
    void drop(int code) EXCLUDES(mutex_);

private:
    mutable plat::Mutex mutex_{plat::Lock::ChangeMailbox};
    std::vector<int> waiting_ GUARDED_BY(mutex_);  // oldest first; a few distinct codes
};
