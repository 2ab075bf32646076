// vidlet: hosts one live-view control in a window, the way a web page does: the control is
// created by its class id, takes a stored property set and page parameters, and is shown.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "platform/control_registry.h"
#include "platform/message_boxes.h"
#include "platform/property_bag.h"
#include "platform/settings_store.h"
#include "platform/trace.h"
#include "viewer/close_on_signals.h"
#include "viewer/qt_message_boxes.h"
#include "viewer/vidlet_ctrl.h"

namespace {

using kv4r::platform::Variant;

// A menu that calls the control's methods by DISPID, as a page's script would.
void addMethodMenu(QMainWindow& window, kv4r::viewer::CVidletCtrl& control,
                   kv4r::platform::MessageBoxes& boxes) {
  auto call = [&control, &boxes](int dispid, std::vector<Variant> args) {
    const auto result = control.invoke(dispid, args);
    if (!result.ok()) {
      boxes.show(result.message);
      return Variant();
    }
    return result.value;
  };
  auto text = [](const Variant& v) {
    Variant out;
    (void)kv4r::platform::convertVariant(v, kv4r::platform::VarType::String, out);
    return out.stringValue();
  };
  QMenu* menu = window.menuBar()->addMenu("&Control");
  menu->addAction("Save JPEG of camera 1...", [&window, call, text, &boxes] {
    const QString path = QFileDialog::getSaveFileName(&window, "Save JPEG", {}, "*.jpg");
    if (path.isEmpty()) return;
    boxes.show(
        "SaveJpg: " + text(call(kv4r::viewer::kDispidSaveJpg,
                                {Variant::fromI2(1), Variant::fromString(path.toStdString())})),
        kv4r::platform::MessageIcon::Information);
  });
  menu->addAction("Save bitmap of camera 1...", [&window, call, text, &boxes] {
    const QString path = QFileDialog::getSaveFileName(&window, "Save bitmap", {}, "*.bmp");
    if (path.isEmpty()) return;
    boxes.show(
        "SaveBmp: " + text(call(kv4r::viewer::kDispidSaveBmp,
                                {Variant::fromI2(1), Variant::fromString(path.toStdString())})),
        kv4r::platform::MessageIcon::Information);
  });
  menu->addAction("Serial number", [call, text, &boxes] {
    boxes.show("GetMacAddr: " + text(call(kv4r::viewer::kDispidGetMacAddr, {})),
               kv4r::platform::MessageIcon::Information);
  });
  menu->addAction("Version", [call, text, &boxes] {
    boxes.show("GetVersion: " + text(call(kv4r::viewer::kDispidGetVersion, {})),
               kv4r::platform::MessageIcon::Information);
  });
  menu->addSeparator();
  menu->addAction("About...", [call] { (void)call(kv4r::platform::kDispidAboutBox, {}); });
  menu->addAction("Close", [&window] { window.close(); });
}

int run(int argc, char** argv) {
  CLI::App cli{"vidlet: shows the cameras of a network video server in one window"};
  std::vector<std::string> params;
  std::string bag_file, save_bag_file, page_url, settings_file;
  bool quit = false, verbose = false;
  cli.add_option(
      "--param", params,
      "a control property as NAME=VALUE (repeatable), e.g. --param strIpAddr=192.168.0.9 "
      "--param iHttpPort=8080; strIpAddr is a bare host unless --page-url gives an "
      "http:// page, as in a browser, where it may be a whole http://user:pw@host:port/");
  cli.add_option("--bag", bag_file, "load the stored property set from FILE")
      ->check(CLI::ExistingFile);
  cli.add_option("--save-bag", save_bag_file,
                 "write the property set to FILE when the window closes");
  cli.add_option("--page-url", page_url, "the address of the page that hosts the control");
  cli.add_option("--settings", settings_file, "the settings file (registry.ini)");
  cli.add_flag("--quit", quit, "close the window right after it was created");
  cli.add_flag("--verbose", verbose, "print the trace lines");
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return cli.exit(e);
  }
  kv4r::platform::setTraceEnabled(verbose);

  QApplication app(argc, argv);
  QApplication::setApplicationName("vidlet");

  kv4r::platform::ControlRegistry& registry = kv4r::platform::ControlRegistry::instance();
  if (kv4r::viewer::registerVidletControl(registry) != kv4r::platform::kRegistryOk) {
    std::fprintf(stderr, "vidlet: the control cannot be registered\n");
    return 1;
  }
  std::unique_ptr<kv4r::platform::Dispatch> created;
  const int rc = registry.create(kv4r::viewer::kVidletClassId, created);
  if (rc != kv4r::platform::kRegistryOk) {
    std::fprintf(stderr, "vidlet: %s\n", kv4r::platform::registryCodeName(rc));
    return 1;
  }
  auto* control = dynamic_cast<kv4r::viewer::CVidletCtrl*>(created.get());
  if (control == nullptr) {
    std::fprintf(stderr, "vidlet: the registered class is not the live-view control\n");
    return 1;
  }
  QMainWindow window;
  window.setWindowTitle("vidlet");
  // Before the control connects: from then on a signal closes the window and saves --save-bag.
  if (!kv4r::viewer::closeOnStopSignals(&window)) {
    std::fprintf(stderr,
                 "vidlet: cannot watch for Ctrl-C and SIGTERM; they end the program without a "
                 "clean close\n");
  }
  window.setCentralWidget(control);  // the window owns the control from here on
  (void)created.release();

  // Headless runs write the messages to standard error instead of showing boxes.
  kv4r::platform::RecordingMessageBoxes recorded(true);
  const bool headless = quit || QGuiApplication::platformName() == "offscreen";
  if (headless) control->setMessageBoxes(&recorded);
  control->setSettings(kv4r::platform::SettingsStore::locate(
      settings_file.empty() ? std::nullopt : std::optional<std::filesystem::path>(settings_file)));
  if (!page_url.empty()) control->setPageUrl(page_url);

  if (!bag_file.empty()) {
    kv4r::platform::PropertyBag bag;
    if (kv4r::platform::PropertyBag::loadFile(bag_file, bag) != kv4r::platform::kBagOk) {
      std::fprintf(stderr, "vidlet: %s: cannot read the property set\n", bag_file.c_str());
      return 1;
    }
    control->loadProperties(bag);
  }
  for (const std::string& param : params) {
    const auto eq = param.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "vidlet: --param %s: expected NAME=VALUE\n", param.c_str());
      return 2;
    }
    const std::string name = param.substr(0, eq);
    const int dispid = control->getIdsOfNames(name);
    if (dispid == kv4r::platform::kDispUnknownName || dispid > kv4r::viewer::kPropertyCount ||
        dispid < 1) {
      std::fprintf(stderr, "vidlet: --param %s: no such property\n", name.c_str());
      return 2;
    }
    const auto result =
        control->putProperty(dispid, kv4r::platform::Variant::fromString(param.substr(eq + 1)));
    if (!result.ok()) {
      std::fprintf(stderr, "vidlet: --param %s: %s\n", name.c_str(), result.message.c_str());
      return 2;
    }
  }

  window.resize(640, 480);
  if (!control->createControlWindow()) {
    std::fprintf(stderr, "vidlet: the control window cannot be created\n");
    return 1;
  }
  kv4r::viewer::QtMessageBoxes gui_boxes(&window);
  addMethodMenu(window, *control,
                headless ? static_cast<kv4r::platform::MessageBoxes&>(recorded) : gui_boxes);
  window.show();
  if (quit) QTimer::singleShot(0, &window, [&window] { window.close(); });
  const int status = app.exec();

  if (!save_bag_file.empty()) {
    const int saved = control->saveProperties().saveFile(save_bag_file);
    if (saved != kv4r::platform::kBagOk) {
      std::fprintf(stderr, "vidlet: %s: %s\n", save_bag_file.c_str(),
                   kv4r::platform::bagCodeName(saved));
      return 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  return run(argc, argv);
}
