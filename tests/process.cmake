# Test executables for process/.
