// Preview widgets.
