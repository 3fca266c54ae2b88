// The launcher's program entry: the bundle registry is created first, the
// embedded bundle registered last, then the launch sequence runs inside the
// run-time frame, which reports a failure and ends the process.
#include "launcher/bundle_module.h"
#include "launcher/launch_sequence.h"
#include "launcher/resource_list.h"
#include "runtime/frame.h"

namespace {

const TModule Modules[] = {
    {CreateResourceRegistry, DestroyResourceRegistry},
    {RegisterEmbeddedBundle, nullptr},
};

}  // namespace

int main(int argc, char** argv) {
  RunProgram(argc, argv, Modules, sizeof(Modules) / sizeof(Modules[0]), RunLaunchSequence);
}
