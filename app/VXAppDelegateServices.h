#pragma once
// What the application delegate needs of the application-wide state, kept apart from the home
// screen's header (the two declare the same broadcast name).
namespace vxapp {

// The hooks between the news screens and the state, category manager, routing and log file.
void installNewsServices();
bool splashEnd();
void setSplashEnd(bool ended);
int screenStatus();

}  // namespace vxapp
