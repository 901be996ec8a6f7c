// Schema classes.
#include "LandscapeClassObject.h"

CLandscapeClassObject::CLandscapeClassObject() : m_superclassP(nullptr) {}
