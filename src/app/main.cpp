#include "app/application.h"
#include "app/main_form.h"

int main(int argc, char** argv)
{
    TOrvantaApplication application(argc, argv);
    TMainForm form;
    form.show();
    return application.exec();
}
