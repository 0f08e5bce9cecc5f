// Answering a request: the period and the pages used are filled into its CRequestResult,
// the answer file "<account>-<machine>.ans" is written into the result folder and copied
// as "<slot>-<account>-<machine>.an2" for the job monitor.
#pragma once

#include <string>

#include "engine/db/zvm_database.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "engine/rules/settings.h"
#include "platform/base/status.h"

namespace zv::engine {

// Completes and writes the answer of a request. Period values still -1 are taken from the
// settings; when `user` is a user row found by the check (Used 1), limits still -1 are
// taken from it and the monochrome and colour pages used in the period are summed (a
// failed sum writes event 16 and keeps the old value). Code 0 gets its completion line.
// Both files are written through a temporary name and a rename. A failed write (or an
// account/machine/slot name that is not plain) is reported in event 17 and returned.
Status WriteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                   const UserRecord& user, const std::string& slot_base);

}  // namespace zv::engine
