// Collects every error reported while it lives, kept or not.
#pragma once

#include <vector>

#include "engine/core/error.h"

namespace kv::test {

struct ErrorLog {
    std::vector<ErrorRecord> errors;
    ErrorLog() {
        ErrorSetReportHook(
            [](const ErrorRecord* e, int64_t, void* d) { static_cast<ErrorLog*>(d)->errors.push_back(*e); }, this);
    }
    ~ErrorLog() { ErrorSetReportHook(nullptr, nullptr); }
    bool Has(int32 module, int32 code) const {
        for (const ErrorRecord& e : errors) {
            if (e.pluginID == module && e.errorCode == code) return true;
        }
        return false;
    }
};

}  // namespace kv::test
