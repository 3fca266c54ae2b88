#include "launcher/bundle_module.h"

#include "launcher/embedded_bundle.h"
#include "launcher/resource_list.h"

void RegisterEmbeddedBundle() {
  // An executable without a readable bundle registers nothing: the install
  // then fails with "Resource "quintabelprincipal" not found".
  TEmbeddedBundle Bundle;
  if (!FindEmbeddedBundle(Bundle)) return;
  Resources().Add("quintabelprincipal", "ZIP", {{Bundle.Data, Bundle.Length}});
}
