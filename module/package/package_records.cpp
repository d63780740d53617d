#include "package/package_records.h"

namespace hx {

PackageRecords& packageRecords() {
  static PackageRecords records;
  return records;
}

}  // namespace hx
