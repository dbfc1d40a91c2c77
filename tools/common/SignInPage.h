#pragma once
// The sign-in page a local service shows before it grants an authorisation: a heading, the test
// account it takes (so a person, and the reader's tour, can read it off the page), and one form
// that posts the account and password back to the page's own address. The reader's headless web
// view turns the form into two text fields ("帐号", "密码") and a button.
#include <map>
#include <string>

namespace tools {

struct SignInPage {
  std::string title;    // the document's title
  std::string heading;  // the first line on the page
  std::string action;   // where the form posts: the page's own address, query and all
  std::string account;  // the test account the service takes
  std::string password;
  std::string typed;         // the account as it was typed, after a refused sign-in
  bool refused = false;      // says the account or password was wrong
  std::string submit = "登录并授权";
};

std::string signInPageHTML(const SignInPage& page);

// Whether the posted form fields hold exactly the test account and its password.
bool signInAccepted(const std::map<std::string, std::string>& fields, const std::string& account,
                    const std::string& password);

}  // namespace tools
