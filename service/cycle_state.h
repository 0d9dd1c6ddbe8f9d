// The record of the last poll cycle that -status reads: when it ran, how it ended, and
// where each campaign started, got to and stopped, and why. The service writes it as
// its cycle goes (cycle_state_file.h); this file holds the record and its JSON form,
// shared by the writer and the reader so that both read the same names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/date_time.h"

namespace zendrel {

// How the cycle ended.
enum class CycleEnd {
  kRunning,              // not yet: the cycle is still at work (or its process died)
  kDone,                 // every step came to its end
  kNotServer,            // this machine is not the database server: nothing was done
  kDatabaseUnreachable,  // neither password opened the database
  kDatabaseHeld,         // another relay held the database's lock: nothing was done
  kInterrupted,          // a stop request ended the run between two movements
  kError,                // an exception left the cycle (`error` holds its text)
};

// Why a campaign stopped before its last pending movement.
enum class CampaignStopKind {
  kNone,             // it did not stop at a movement (nothing pending, or all sent)
  kRefused,          // the platform answered with a status other than 200
  kTransport,        // no usable reply: no reply at all, or a 5xx
  kUnreadable,       // the movement could not be read or posted by this program
  kIndexNotWritten,  // accepted, but its send index could not be written
  kHeldByTill,       // an ERP transaction held the pending movements
};

struct CampaignStop {
  CampaignStopKind kind = CampaignStopKind::kNone;
  std::optional<std::int64_t> movement;  // the movement it stopped at (none for a till)
  int status = 0;                        // the platform's HTTP status; 0 without a reply
  std::string message;                   // the platform's message, the error, or the till's transactions
  std::string transport;                 // the transport's reason when no usable reply came
};

struct CampaignRun {
  bool ran = false;                          // the campaign was switched on and its run began
  bool ended = false;                        // its run came to its end (false: an exception ended it)
  std::optional<std::int64_t> index_before;  // as stored before the run (none: NULL)
  std::optional<std::int64_t> index_after;   // as stored when the record was written
  int accepted = 0;                          // movements the platform accepted
  CampaignStop stop;
  std::string certificate_waived;  // why the certificate check was waived; empty: it was not
};

struct CycleState {
  DateTime started;
  DateTime updated;  // when the record was last written
  std::optional<DateTime> ended;
  CycleEnd end = CycleEnd::kRunning;
  std::string error;             // with CycleEnd::kError
  std::int64_t interval_ms = 0;  // the pause after a cycle, of the process that wrote it
  CampaignRun pontos;
  CampaignRun top_vendas;
};

// The record as a JSON object (UTF-8).
std::string CycleStateJson(const CycleState& state);

// The record from its JSON text; nullopt when the text is no such record.
std::optional<CycleState> ParseCycleState(const std::string& json);

// "DD/MM/YYYY HH:mm:ss" back to a moment; nullopt when it is not one.
std::optional<DateTime> ParseLogTimestamp(std::string_view text);

// Seconds from `from` to `to`, both local moments (negative when `to` is earlier).
std::int64_t SecondsBetween(const DateTime& from, const DateTime& to);

}  // namespace zendrel
