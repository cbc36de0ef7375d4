// Filling the response records the module reads, and releasing them when the module says so.
//
// Every record the stand-in fills owns its texts, host value and stream through a holder kept in a
// process-wide table under the record's address; the record's release function looks the holder up,
// frees it and zeroes the record. A release of an address the table does not know (a second release,
// or a record the stand-in never filled) is reported as a problem instead of freeing anything.

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/external_transport.h"
#include "host/request_router.h"
#include "plugin/plugin_abi.h"

namespace GoxHost {

// Told what the module does with the records filled for it.
class RecordObserver {
 public:
  virtual ~RecordObserver() = default;
  // The module called a function of a record: "stream.read", "stream.close", "response.release",
  // "externalResponse.release"; `summary` describes the arguments or outcome.
  virtual void OnRecordCall(std::string_view entry, std::string summary) = 0;
  // The module broke a rule of the records.
  virtual void OnRecordProblem(std::string message) = 0;
};

// Makes `observer` the one told about records it fills; a release nobody knows about is reported to
// every attached observer. DetachObserver forgets it, also in records not yet released.
void AttachObserver(RecordObserver* observer);
void DetachObserver(RecordObserver* observer);

// Fills `record` from `answer` (error text, status, body host value or stream) and sets its release.
// REQUIRES: the module zero-filled the record.
void FillResponse(PluginResponse& record, const ProviderAnswer& answer, RecordObserver* observer);

// Fills `record` from the transport's result and sets its release.
void FillExternalResponse(PluginExternalResponse& record, const ExternalResult& result,
                          RecordObserver* observer);

// The number of records filled for `observer` and not released yet.
[[nodiscard]] std::size_t OutstandingRecords(const RecordObserver* observer);

}  // namespace GoxHost
