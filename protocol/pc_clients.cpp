#include "protocol/pc_clients.h"

#include <arpa/inet.h>

#include <system_error>

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/waits.h"

PcClient::PcClient(uint8_t transport)
    : link(std::make_shared<control_link>(transport)), lastActive(G_timeTicks.load()) {}

uint32_t PcClient::idleTicks() const { return Utils::getTimeSpace(lastActive); }

void PcClient::setSource(uint32_t address, uint64_t machines) {
    source = address;
    link->setMachine(machines | ntohl(address));
}

PcClients::PcClients(size_t places, const char* linkName, const char* jobThread)
    : places_(places), linkName_(linkName), jobThread_(jobThread), drops_(linkName) {}

PcClients::~PcClients() { clear(); }

void PcClients::clear() {
    for (size_t i = clients_.size(); i-- > 0;) {
        if (clients_[i]->job) orphans_.push_back(std::move(clients_[i]->job));
    }
    for (auto& c : released_) orphans_.push_back(std::move(c->job));
    clients_.clear();
    released_.clear();
    turnStart_ = 0;
    for (auto& j : orphans_) plat::joinThread(j->thread);
    orphans_.clear();
}

void PcClients::remove(size_t i, const std::string& who) {
    PcClient& c = *clients_[i];
    logDropped(who + ", frames it had waiting", c.link->dropHeldFrames(false));
    // The command still finishes; its reply goes nowhere.
    if (c.job) orphans_.push_back(std::move(c.job));
    clients_.erase(clients_.begin() + long(i));
    if (turnStart_ > i) --turnStart_;
}

void PcClients::release(size_t i, const std::string& who) {
    PcClient& c = *clients_[i];
    logDropped(who + ", frames it had waiting", c.link->dropHeldFrames(false));
    released_.push_back(std::move(clients_[i]));
    clients_.erase(clients_.begin() + long(i));
    if (turnStart_ > i) --turnStart_;
}

std::unique_ptr<PcClient> PcClients::takeBack(const std::function<bool(const PcClient&)>& is) {
    for (size_t i = 0; i < released_.size(); ++i) {
        if (!is(*released_[i])) continue;
        std::unique_ptr<PcClient> c = std::move(released_[i]);
        released_.erase(released_.begin() + long(i));
        return c;
    }
    return nullptr;
}

void PcClients::dropLongCommands(PcClient& c, const std::string& who) {
    logDropped(who + " left, long commands it sent not yet started", c.link->dropHeldFrames(true));
}

size_t PcClients::jobs() const {
    size_t n = orphans_.size() + released_.size();
    for (const auto& c : clients_) n += c->busy() ? 1 : 0;
    return n;
}

// A job per PC, and those of PCs gone until they end: a PC that sends a long command and
// leaves, again and again, gets no more threads than the places again.
bool PcClients::canServe(const PcClient& c) const {
    if (!c.servable()) return false;
    if (!c.link->heldFrameMayTakeLong()) return true;
    return jobs() < 2 * places_;
}

bool PcClients::turnDue() const {
    for (const auto& c : clients_)
        if (canServe(*c)) return true;
    return false;
}

void PcClients::serveTurn() {
    const size_t n = clients_.size();
    size_t last = n;
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (turnStart_ + k) % n;
        PcClient& c = *clients_[i];
        if (!canServe(c)) continue;
        if (c.link->heldFrameMayTakeLong())
            startJob(c);
        else
            c.link->handleHeldFrame([&c](const std::vector<uint8_t>& reply) { c.deliver(reply); });
        last = i;
    }
    if (last < n) turnStart_ = last + 1;
}

void PcClients::startJob(PcClient& c) {
    auto job = std::make_unique<PcJob>();
    PcJob* j = job.get();
    std::shared_ptr<control_link> link = c.link;
    auto frame = std::make_shared<const std::vector<uint8_t>>(link->takeHeldFrame());
    try {
        job->thread = std::thread([this, j, link, frame] {
            plat::nameThisThread(jobThread_);
            link->handleFrame(frame->data(), frame->size(),
                              [j](const std::vector<uint8_t>& reply) { j->replies.push_back(reply); });
            j->finished = true;
            jobDone_.wake();
        });
    } catch (const std::system_error& e) {
        writeLogMsg(LOG_ERROR, linkName_ + ": no thread for a long command (" + e.what() + "), run in turn");
        link->handleFrame(frame->data(), frame->size(), [&c](const std::vector<uint8_t>& reply) { c.deliver(reply); });
        c.lastActive = G_timeTicks.load();
        return;
    }
    c.job = std::move(job);
}

bool PcClients::finishJob(PcClient& c) {
    if (!c.job || !c.job->finished) return false;
    plat::joinThread(c.job->thread);
    // Idle time counts from the job's end: its PC waited for it, it was not idle.
    c.lastActive = G_timeTicks.load();
    for (const auto& reply : c.job->replies) c.deliver(reply);
    c.job.reset();
    return true;
}

void PcClients::collectJobs() {
    for (auto& c : clients_) finishJob(*c);
    for (size_t i = 0; i < released_.size();) {
        if (finishJob(*released_[i]))
            released_.erase(released_.begin() + long(i));
        else
            ++i;
    }
    for (size_t i = 0; i < orphans_.size();) {
        if (!orphans_[i]->finished) {
            ++i;
            continue;
        }
        plat::joinThread(orphans_[i]->thread);
        orphans_.erase(orphans_.begin() + long(i));
    }
}
