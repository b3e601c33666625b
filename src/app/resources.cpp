#include "app/resources.h"

#include <QtGlobal>

// Outside every namespace: the macro declares the registering function where it stands.
static void registerSorvelResources() {
    Q_INIT_RESOURCE(sorvel);
}

namespace sorvel::app {

void initResources() {
    static const bool registered = (registerSorvelResources(), true);
    (void)registered;
}

}  // namespace sorvel::app
