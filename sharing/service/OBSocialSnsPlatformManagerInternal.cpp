#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"

#include <map>

int OBSocialSnsPlatformManagerInternal::getSnsPlatformType(const std::string& name) {
  static const std::map<std::string, int> kTypes{
      {"qzone", 10},      {"sina", 11},       {"velmora", 12},    {"renren", 13}, {"douban", 14},
      {"wxsession", 15},  {"wxtimeline", 16}, {"wxfavorite", 17}, {"email", 18},  {"sms", 19},
      {"qq", 20},         {"facebook", 21},   {"twitter", 22}};
  auto found = kTypes.find(name);
  return found == kTypes.end() ? 0 : found->second;
}
