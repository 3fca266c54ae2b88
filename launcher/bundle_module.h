// The launcher's own module: registers the embedded bundle archive in the
// resource registry at start-up.
#pragma once

// Registers the embedded archive as "quintabelprincipal" of type "ZIP", as one
// piece held where it lies (no copy). The registry must exist.
void RegisterEmbeddedBundle();
