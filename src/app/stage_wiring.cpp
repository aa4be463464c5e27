#include "app/run_driver.h"

namespace razere {

RunStages BuiltStages() {
  RunStages s;
  return s;
}

}  // namespace razere
