#include "launcher/bundle_module.h"

#include "bundle_layout/bundle_files.h"
#include "launcher/embedded_bundle.h"
#include "launcher/resource_list.h"

void RegisterEmbeddedBundle() {
  // An executable without a readable bundle registers nothing: the install
  // then fails with "Resource "quintabelprincipal" not found".
  TEmbeddedBundle Bundle;
  if (!FindEmbeddedBundle(Bundle)) return;
  Resources().Add(BundleResourceName, "ZIP", {{Bundle.Data, Bundle.Length}});
}
