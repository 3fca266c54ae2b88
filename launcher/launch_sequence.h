// The program's main routine: installs the embedded application into the
// work folder under the temporary folder, brings the user's data files in,
// runs the application, carries its output back and removes the work folder.
#pragma once

void RunLaunchSequence();
