#include "platform/StandardConsole.h"

#include <iostream>

namespace dormex {

void StandardConsole::Write(std::string_view text)
{
    std::cout << text;
}

bool StandardConsole::ReadChar(char* c)
{
    std::cout.flush();
    return static_cast<bool>(std::cin >> *c);
}

}  // namespace dormex
