#include "Nuvel/ui/shell/AppDelegate.hpp"

int main(int argc, char** argv) {
    return nuvel::AppDelegate::main(argc, argv);
}
