// Ids and labels of classes and entities.
#include "LandscapeObject3D.h"

#include <cstring>

CLandscapeObject3D::CLandscapeObject3D() : m_idP(nullptr), m_labelP(nullptr) {}

int CLandscapeObject3D::hasId(const char* idP) const { return strcmp(m_idP, idP) == 0 ? 1 : 0; }
