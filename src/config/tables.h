// The fixed tables that translate between stored indexes and caller values:
// scan types, pattern widths and exposure times. Built anew on every use.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config/table_values.h"
#include "core/module.h"

namespace quillon {

bool getScanType(Module& module, std::map<int, std::string>& table);
bool getWidthPixels(Module& module, std::vector<double>& table);
bool getExposureTimes(Module& module, std::vector<double>& table);

// The width table's value for a pattern `pixels` columns wide.
double widthValueOf(int pixels);

// Position of `value` in `table` within 1e-7, or -1.
int findTableValue(const std::vector<double>& table, double value);

}  // namespace quillon
