#pragma once
// The PCs of a link that serves several at once (the TCP connections, the UDP senders),
// served so that one PC costs the others at most one short command. Each PC has its own
// control_link, so its frames are answered in its order; they are served in turn, one
// frame of each per turn. A command that can take seconds (control_link::
// heldFrameMayTakeLong) runs as the PC's job on a thread of its own; its next frames wait
// behind it while the others are served. Everything here runs on the link's thread,
// except the job bodies.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "protocol/control_link.h"

// A long command of one PC on its own thread. The worker owns `replies` until it sets
// `finished`; the link's thread then joins it and hands them on.
struct PcJob {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::vector<std::vector<uint8_t>> replies;
};

struct PcClient {
    explicit PcClient(uint8_t transport);
    virtual ~PcClient() = default;
    // An encoded reply for this PC.
    virtual void deliver(const std::vector<uint8_t>& encoded) = 0;
    // False while the transport holds this PC back (a TCP client whose replies wait).
    virtual bool mayServe() const { return true; }
    bool busy() const { return job != nullptr; }
    bool servable() const { return !busy() && link->hasHeldFrame() && mayServe(); }
    // Nothing running, nothing waiting to run.
    bool quiet() const { return !busy() && !link->hasHeldFrame(); }
    // Quiet, and nothing of it held in its transport either (a TCP client's replies unsent,
    // its bytes read ahead): its place costs it nothing.
    virtual bool idle() const { return quiet(); }
    uint32_t idleTicks() const;
    // Its source address (network order): the PCs of one address are one machine, in the
    // places (machine_places.h) and in the pass-through's turns (as machine `machines` |
    // the address: control_link::kTcpHostMachine, kUdpHostMachine).
    void setSource(uint32_t address, uint64_t machines);

    uint32_t source = 0;

    std::shared_ptr<control_link> link;  // shared with the running job
    std::unique_ptr<PcJob> job;          // the long command running, if any
    // Tick of its last whole frame, or of its job's end when that came later.
    uint32_t lastActive;
};

class PcClients {
public:
    // places: the PCs served at once. Jobs run on threads called jobThread; their number
    // is bounded by twice the places, so that the jobs of PCs that left, which run on to
    // their end, still leave every present PC one.
    PcClients(size_t places, const char* linkName, const char* jobThread);
    ~PcClients();
    PcClients(const PcClients&) = delete;
    PcClients& operator=(const PcClients&) = delete;

    size_t size() const { return clients_.size(); }
    size_t places() const { return places_; }
    PcClient& operator[](size_t i) { return *clients_[i]; }
    const PcClient& operator[](size_t i) const { return *clients_[i]; }
    void add(std::unique_ptr<PcClient> c) { clients_.push_back(std::move(c)); }
    // The PC at i leaves: a job already running finishes, its replies go nowhere; what it
    // queued and was not started is dropped (logged under `who`).
    void remove(size_t i, const std::string& who);
    // The PC at i, its job running, gives its place up: the job's replies still go to it when
    // it ends, and then it is forgotten; what it had waiting is dropped (logged under `who`).
    void release(size_t i, const std::string& who);
    // The PC released whose job has not ended that `is` picks, taken back to be add()ed again
    // (its next frames wait behind that job, in its order); nullptr when there is none.
    std::unique_ptr<PcClient> takeBack(const std::function<bool(const PcClient&)>& is);
    // Drops the long commands (cards' bus, flash, files) a PC that left has queued, keeping
    // its short ones in order; logged under `who`.
    void dropLongCommands(PcClient& c, const std::string& who);
    // Logs frames dropped (`what` says why): at once, then at most a line a second with
    // the count since the last one, so a flood does not flood the log too.
    void logDropped(const std::string& what, size_t frames) { drops_.log(what, frames); }
    DropLog& drops() { return drops_; }

    bool canServe(const PcClient& c) const;
    bool turnDue() const;
    // One frame of each PC that has one, starting after the PC served last, so a PC that
    // arrived during a slow command comes before that command's sender's next one.
    void serveTurn();
    // Hands the replies of the jobs that ended to their PCs, and joins those of PCs gone.
    void collectJobs();
    // Its read end goes into the link's poll set: a job ended.
    int jobDoneFd() const { return jobDone_.readFd(); }
    void drainJobDone() { jobDone_.drain(); }
    // Forgets every PC and waits for the jobs still running.
    void clear();

private:
    void startJob(PcClient& c);
    // Joins c's job if it has ended and hands its replies on; false while it runs.
    bool finishJob(PcClient& c);
    size_t jobs() const;
    const size_t places_;
    const std::string linkName_;
    const char* const jobThread_;
    std::vector<std::unique_ptr<PcClient>> clients_;  // in order of arrival
    std::vector<std::unique_ptr<PcJob>> orphans_;     // jobs of PCs gone, still running
    std::vector<std::unique_ptr<PcClient>> released_; // PCs without a place, their job running
    size_t turnStart_ = 0;
    plat::net::WakePipe jobDone_;
    DropLog drops_;
};
