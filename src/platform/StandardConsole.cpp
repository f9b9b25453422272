#include "platform/StandardConsole.h"

#include <iostream>

namespace dormex {

void StandardConsole::Write(std::string_view text)
{
    std::cout << text;
}

void StandardConsole::WriteError(std::string_view text)
{
    std::cout.flush();  // what was written before comes before it
    std::cerr << text;
}

bool StandardConsole::ReadChar(char* c)
{
    std::cout.flush();
    return static_cast<bool>(std::cin >> *c);
}

}  // namespace dormex
