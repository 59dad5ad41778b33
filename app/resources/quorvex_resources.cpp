#include "quorvex_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the generated initialiser, which lives in the global namespace,
// so it has to be expanded there.
void QuorvexInitResources() { Q_INIT_RESOURCE(resource); }
