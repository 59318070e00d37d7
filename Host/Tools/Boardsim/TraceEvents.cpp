#include "TraceEvents.h"

#include "BoardPmTimer.h"
#include "CallRecord.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

namespace boardsim {
namespace {

// The one process and thread every event is on.
constexpr int ProcessId = 1;
constexpr int ThreadId = 1;

constexpr std::string_view ReturnMark = sim::CallReturnMark;

std::string Quoted(const std::string &Text) {
  return nlohmann::json(Text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

const char *Category(sim::AccessKind Kind) {
  switch (Kind) {
  case sim::AccessKind::PortIn:
  case sim::AccessKind::PortOut:
    return "port";
  case sim::AccessKind::MemRead:
  case sim::AccessKind::MemWrite:
    return "memory";
  default:
    return "processor";
  }
}

} // namespace

TraceEvents::TraceEvents(tooloutput::Output &Out, const std::string &Thread) : Out_(Out) {
  Out_.write("{\"displayTimeUnit\":\"ns\",\"traceEvents\":[\n");
  event("process_name", 'M', ",\"args\":{\"name\":\"boardsim\"}");
  event("thread_name", 'M', ",\"args\":{\"name\":" + Quoted(Thread) + "}");
}

double TraceEvents::now() const {
  return static_cast<double>(Time_.ticks()) * 1e6 / runs::PmTimerHz;
}

void TraceEvents::event(const std::string &Name, char Phase, const std::string &Extra) {
  Out_.write(fmt::format("{}{{\"name\":{},\"ph\":\"{}\",\"ts\":{:.3f},\"pid\":{},\"tid\":{}{}}}",
                         First_ ? "" : ",\n", Quoted(Name), Phase, now(), ProcessId, ThreadId,
                         Extra));
  First_ = false;
}

void TraceEvents::observe(const sim::TraceRecord &Record) {
  Time_.observe(Record);
  if (Record.Kind == sim::AccessKind::Note) {
    const std::string::size_type Returned = Record.Text.find(ReturnMark);
    if (Returned == std::string::npos) {
      event(Record.Text, 'B');
      Open_.push_back(Record.Text);
    } else if (!Open_.empty() && Open_.back() == Record.Text.substr(0, Returned)) {
      event(Open_.back(), 'E',
            ",\"args\":{\"returned\":" + Quoted(Record.Text.substr(Returned + ReturnMark.size())) +
                "}");
      Open_.pop_back();
    } else {
      // A service call that made no access: entered and returned in one annotation.
      event(Record.Text, 'i', ",\"s\":\"t\",\"cat\":\"call\"");
    }
    return;
  }
  const std::string Register = Record.Text.empty() ? "" : ",\"register\":" + Quoted(Record.Text);
  event(sim::FormatRecord(Record, false), 'i',
        fmt::format(",\"s\":\"t\",\"cat\":\"{}\",\"args\":{{\"address\":{},\"value\":{}{}}}",
                    Category(Record.Kind), Record.Address, Record.Value, Register));
  if (Record.Kind == sim::AccessKind::PortIn && Record.Address == sim::hw::PmTimer::Port) {
    event("PM timer", 'C', fmt::format(",\"args\":{{\"count\":{}}}", Record.Value));
  }
}

void TraceEvents::finish() {
  if (Finished_) {
    return;
  }
  while (!Open_.empty()) {
    event(Open_.back(), 'E', ",\"args\":{\"returned\":\"(the run ended inside it)\"}");
    Open_.pop_back();
  }
  Out_.write("\n]}\n");
  Finished_ = true;
}

} // namespace boardsim
