// `vantrel serve`: the limits on renders in flight.

#include "tools/serve/render_gate.h"

#include <algorithm>

namespace vantrel {

RenderGate::Ticket::Ticket(RenderGate& gate, const std::string& key) : gate(gate), key(key) {
    std::unique_lock lock(gate.mutex);
    if (gate.line.size() >= gate.maxWaiting && gate.running >= gate.maxRunning) return;  // Full
    // The older render of this key, if any, is no longer wanted.
    auto& newest = gate.newest[key];
    if (newest) newest->store(true);
    newest = cancelled;
    gate.changed.notify_all();
    number = gate.nextNumber++;
    gate.line.push_back(number);
    gate.changed.wait(lock, [&] {
        return cancelled->load() || (gate.running < gate.maxRunning && gate.line.front() == number);
    });
    gate.line.erase(std::find(gate.line.begin(), gate.line.end(), number));
    if (cancelled->load()) {
        result = Admission::Cancelled;
    } else {
        ++gate.running;
        result = Admission::Run;
    }
    gate.changed.notify_all();  // the next in line may be first now
}

RenderGate::Ticket::~Ticket() {
    if (result == Admission::Full) return;
    std::lock_guard lock(gate.mutex);
    if (result == Admission::Run) --gate.running;
    const auto found = gate.newest.find(key);
    if (found != gate.newest.end() && found->second == cancelled) gate.newest.erase(found);
    gate.changed.notify_all();
}

}  // namespace vantrel
