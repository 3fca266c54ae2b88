# Test executables for runtime/.
