#include "qqconnect_core/login/VelmoraDataMgr.h"

VelmoraDataMgr& VelmoraDataMgr::dataCenter() {
  // Main thread only, as every user of the app-to-app layer.
  static VelmoraDataMgr* center = new VelmoraDataMgr();
  return *center;
}
