# Test executables for zip/.
