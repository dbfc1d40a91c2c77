// Image loading and caching, and the widgets of the reader's screens.
namespace ui {}
