#include "app/CVantorApp.h"

int main(int argc, char** argv) { return zarn::TheApp().Run(argc, argv); }
