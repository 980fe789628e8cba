#include "app/LMVuzadivirurApp.h"

int main(int argc, char** argv) { return LMVuzadivirurApp::main(argc, argv); }
