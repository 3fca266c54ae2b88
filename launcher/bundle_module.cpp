#include "launcher/bundle_module.h"

#include "launcher/embedded_bundle.h"
#include "launcher/resource_list.h"

void RegisterEmbeddedBundle() {
  // An executable without a readable bundle registers nothing: the install
  // then fails with "Resource "quintabelprincipal" not found".
  TEmbeddedBundle bundle;
  if (!FindEmbeddedBundle(bundle)) return;
  Resources().Add("quintabelprincipal", "ZIP", {{bundle.Data, bundle.Length}});
}
