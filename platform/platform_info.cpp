// Platform layers; files are added as each layer is built.
