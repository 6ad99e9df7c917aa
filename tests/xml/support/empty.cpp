// Keeps the support library non-empty while it has no checkers of its own.
