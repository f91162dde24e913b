// Objects of Qt's offscreen platform plugin (its screen) and of the D-Bus
// client library live until the process ends and are never freed; the
// sanitizer build reports only leaks beyond those.
extern "C" const char *__lsan_default_suppressions();

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n"
           "leak:QScreen::QScreen\n"
           "leak:QPlatformScreen::QPlatformScreen\n"
           "leak:QWindowSystemInterface::handleScreenAdded\n"
           "leak:QtSharedPointer::ExternalRefCountData::getAndRef\n"
           "leak:QObject::QObject\n"
           "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n";
}

// Qt unloads some plugins at exit; a leak inside one would be reported from
// an unknown module, past any suppression by name. The tests keep every
// library loaded until the process ends.
extern "C" int dlclose(void *);

extern "C" int dlclose(void *)
{
    return 0;
}
