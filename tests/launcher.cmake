# Test executables for launcher/.
