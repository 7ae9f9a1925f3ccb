#include "stdafx.h"
#include "T.h"
// Type Demo1 into the box beside the Run button and press Run.
// std::cout, printf and Print all write to the output pane.
void Demo1()
{
    std::cout << "Hello from Demo1!" << std::endl;
    Print("1 + 2 = ", 1 + 2, "\n");
}
