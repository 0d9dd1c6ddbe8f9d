// Reading the platform's ISO 8601 date texts (2021-09-23 or 2021-09-23T14:30:00).
#pragma once

#include <string_view>

#include "support/date_time.h"
#include "support/regional_settings.h"

namespace zendrel {

// Takes the year from positions 1-4, the month from 6-7 and the day from 9-10 of
// `Data`, rejoins them as a day/month/year text and reads that with the regional
// short-date reader. Throws ConversionError "'<joined text>' is not a valid date".
DateTime TrataData(std::string_view Data);

// The same under the given regional settings (date separator and short date order)
// in place of the process's.
DateTime TrataData(std::string_view Data, const RegionalSettings& regional);

}  // namespace zendrel
