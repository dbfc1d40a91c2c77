#include "news/shell/VXLeftBaseViewController.h"

#include "news/shell/NQSideViewController.h"

void VXLeftBaseViewController::backButtonClick() { NQSideViewController::share()->showLeftViewController(true); }

// The screen already slid away under the finger: the menu shows at once.
void VXLeftBaseViewController::panGetstureRecognizerEnded() { NQSideViewController::share()->showLeftViewController(false); }
