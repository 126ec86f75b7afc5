#include "sim/World.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace sim {

World::World(const SimConfig& cfg) : cfg_(cfg) {
    epochUs_ = platform::clock().nowUs();
    now_ = epochUs_;
    const int n = std::max(cfg_.boards, 0);
    logs_.resize(n);
    for (int k = 0; k < n; ++k) {
        const BoardConfig& b = cfg_.boardConfig(k);
        const DongleConfig& d = cfg_.dongleConfig(k);
        const int dongleChannel = d.channel > 0 ? d.channel : (k % 25) + 1;
        boards_.push_back(std::make_unique<BoardModel>(k, b, streamSeed(cfg_.seed, 100 + k), dongleChannel));
        dongles_.push_back(std::make_unique<DongleModel>(k, d, streamSeed(cfg_.seed, 10000 + k), dongleChannel,
                                                         cfg_.usbLatencyUs, cfg_.dongleBufferBytes, cfg_.keepLog,
                                                         cfg_.usbJitterUs));
        schedule(k, b, d);
    }
}

void World::schedule(int k, const BoardConfig& b, const DongleConfig& d) {
    if (b.powerOffAtUs >= 0) {
        int after = b.powerOffAfterBytes;
        at(epochUs_ + b.powerOffAtUs, [this, k, after](std::int64_t) {
            if (after >= 0) {
                boards_[k]->cutNextPacket(after);
            } else {
                boards_[k]->powerOff();
            }
        });
    }
    if (b.powerOnAtUs >= 0) at(epochUs_ + b.powerOnAtUs, [this, k](std::int64_t) { boards_[k]->powerOn(); });
    if (d.unplugAtUs >= 0) at(epochUs_ + d.unplugAtUs, [this, k](std::int64_t) { dongles_[k]->unplug(); });
    if (d.replugAtUs >= 0) at(epochUs_ + d.replugAtUs, [this, k](std::int64_t) { dongles_[k]->plugIn(); });
}

void World::setPacketSink(PacketSink* sink) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    sink_ = sink;
}

void World::at(std::int64_t t, std::function<void(std::int64_t)> fn) { events_.push({t, seq_++, std::move(fn)}); }

void World::advance(std::int64_t now) {
    for (;;) {
        std::int64_t tEvent = events_.empty() ? BoardModel::kNever : events_.top().t;
        std::int64_t tPacket = BoardModel::kNever;
        int which = -1;
        for (int k = 0; k < boardCount(); ++k) {
            std::int64_t t = boards_[k]->nextPacketUs();
            if (t < tPacket) {
                tPacket = t;
                which = k;
            }
        }
        const std::int64_t t = std::min(tEvent, tPacket);
        if (t > now || t == BoardModel::kNever) break;
        now_ = std::max(now_, t);
        if (tEvent <= tPacket) {
            auto fn = std::move(const_cast<Event&>(events_.top()).fn);
            events_.pop();
            fn(t);
        } else {
            PacketRecord r = boards_[which]->emitPacket();
            BoardLog& lg = logs_[which];
            ++lg.made;
            if (r.dropped) ++lg.dropped;
            if (r.bytesSent < kPacketBytes) ++lg.cut;
            if (!r.dropped && r.bytesSent > 0) fromBoard(which, r.bytes.data(), r.bytesSent, r.timeUs, true);
            if (sink_) sink_->packet(which, r);
            if (cfg_.keepLog) lg.packets.push_back(r);
        }
    }
    now_ = std::max(now_, now);
    if (sink_) sink_->reached(now_);
}

std::int64_t World::advanceToClock() {
    std::int64_t now = std::max(platform::clock().nowUs(), now_);
    advance(now);
    return now;
}

std::int64_t World::nextByteUs(int k, std::int64_t now) {
    DongleModel& d = *dongles_[k];
    bool settled = true;
    std::int64_t next = d.nextDueUs(now, settled);
    if (settled && next != DongleModel::kNever) return std::max(next, now);
    if (!d.listening()) return next == DongleModel::kNever ? next : std::max(next, now);
    // Nothing settled: the earliest thing that could bring bytes (or fill the
    // open USB packet). It may bring none (a dropped packet, another dongle's
    // reply); the caller asks again.
    if (!events_.empty()) next = std::min(next, events_.top().t);
    for (auto& b : boards_) {
        std::int64_t t = b->nextPacketUs();
        if (t != BoardModel::kNever && b->channel() == d.channel())
            next = std::min(next, t + cfg_.radioLatencyUs);
    }
    return next == DongleModel::kNever ? next : std::max(next, now + 1);
}

void World::fromBoard(int k, const std::uint8_t* p, std::size_t n, std::int64_t t, bool streamPacket) {
    const int ch = boards_[k]->channel();
    const std::int64_t arrive = t + cfg_.radioLatencyUs;
    for (auto& d : dongles_)
        if (d->listening() && d->channel() == ch) d->fromRadio(p, n, arrive, streamPacket);
}

int World::boardsOn(int channel, std::int64_t) {
    int n = 0;
    for (auto& b : boards_)
        if (b->powered() && b->channel() == channel) ++n;
    return n;
}

void World::toBoards(int channel, std::string bytes, std::int64_t t) {
    at(t + cfg_.radioLatencyUs, [this, channel, bytes = std::move(bytes)](std::int64_t t) {
        for (int k = 0; k < boardCount(); ++k) {
            BoardModel& b = *boards_[k];
            if (!b.powered() || b.channel() != channel) continue;
            if (cfg_.keepLog) logs_[k].received += bytes;
            std::string reply = b.radioIn(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), t);
            if (!reply.empty())
                fromBoard(k, reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size(), t, false);
        }
    });
}

void World::moveBoards(int from, int to, std::int64_t) {
    for (auto& b : boards_)
        if (b->powered() && b->channel() == from) b->setChannel(to);
}

}  // namespace sim
