// Implemented with its unit.
