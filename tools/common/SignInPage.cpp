#include "tools/common/SignInPage.h"

#include "os/core/String.h"

namespace tools {

std::string signInPageHTML(const SignInPage& page) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + os::escapeMarkup(page.title) +
         "</title></head><body><h1>" + os::escapeMarkup(page.heading) + "</h1>" +
         (page.refused ? "<p>帐号或密码错误，请重新输入</p>" : "") + "<p>测试帐号 " + os::escapeMarkup(page.account) +
         " 密码 " + os::escapeMarkup(page.password) + "</p><form method=\"post\" action=\"" +
         os::escapeMarkup(page.action) + "\"><input type=\"text\" name=\"username\" placeholder=\"帐号\" value=\"" +
         os::escapeMarkup(page.typed) +
         "\"><input type=\"password\" name=\"password\" placeholder=\"密码\"><input type=\"submit\" value=\"" +
         os::escapeMarkup(page.submit) + "\"></form></body></html>";
}

bool signInAccepted(const std::map<std::string, std::string>& fields, const std::string& account,
                    const std::string& password) {
  auto user = fields.find("username");
  auto secret = fields.find("password");
  return user != fields.end() && user->second == account && secret != fields.end() && secret->second == password;
}

}  // namespace tools
