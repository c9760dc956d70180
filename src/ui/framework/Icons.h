#pragma once

#include <QIcon>

// The program's icon resources by id (the program supplies the table); a null icon when
// there is none of that id.
QIcon LoadIcon(int id);
