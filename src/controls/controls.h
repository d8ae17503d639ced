// Widgets of our own live here.
