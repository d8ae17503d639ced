#include "kestraniapp.h"

int main(int argc, char *argv[])
{
    CKestraniApp app(argc, argv);
    const int result = app.InitInstance(app.FileArguments());
    app.ExitInstance();
    return result;
}
