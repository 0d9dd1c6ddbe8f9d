// The fixed Brazilian Portuguese regional settings.
#include "support/regional_settings.h"

namespace zendrel {

const RegionalSettings& Regional() {
  // Fixed rather than read from the host, so that a server installed in another
  // language writes and reads dates exactly as a Brazilian one does.
  static const RegionalSettings brazilian{};
  return brazilian;
}

}  // namespace zendrel
