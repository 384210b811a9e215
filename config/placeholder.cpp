// Filled in by the config work.
