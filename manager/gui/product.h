// The product's own texts that the dialogs show: the display name, the maker
// and its web address, the About box's lines. UTF-8.
#pragma once

// Program file base name: the caption of the manager's message boxes.
const char kAppName[] = "tarnwellUSB";
// Display name: window title (with kTitleSuffix) and the help text's first line.
const char kDisplayName[] = "Tarnwell U盘病毒专杀";
const char kTitleSuffix[] = "(tarnwellUSB v1.0)";
const char kMakerUrl[] = "http://www.corvane.example/";
// The link's text: the maker's name and web address.
const char kLinkText[] = "Corvane Scan Labs  www.corvane.example";

const char kAboutTitle[] = "About tarnwellUSB";
const char kAboutVersion[] = "tarnwellUSB Version 1.0";
const char kAboutCopyright[] = "Copyright (C) 2026 Corvane Scan Labs";
// The menu item that opens the About box (context menu and F1).
const char kAboutMenuItem[] = "&About tarnwellUSB...";
