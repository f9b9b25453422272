#pragma once

#include <string_view>

// The pieces of the report that several places use, and its style sheet. No
// piece of the report holds a line break: a report is one line.
namespace dormex::html {

// A card: an article and its inner wrapper.
inline constexpr std::string_view CardStart = "<article><div class=\"wrapper1\">";
inline constexpr std::string_view DataCell = "<td class=\"data\">";
inline constexpr std::string_view DeviceItem = "<li class=\"rm-cdr\">";
inline constexpr std::string_view OsDeviceItem = "<li class=\"rm-podr\">";

inline constexpr std::string_view StyleSheet =
    "body{padding:1em;background:#465e67;}"
    "h1{text-align:center;color:#333333;font-weight:bold;font-family:\"Franklin Gothic Medium\";"
    "font-size:300%;margin:0.5em auto;}"
    "h3{font-family:arial;color:#333333;margin:1em 1em 1em 2em;}"
    "ul,li{font-family:monospace;color:#333333;list-style-type:none;}"
    "table{font-family:arial;margin:1em 1em 1em 2em;background:whitesmoke;border-collapse:collapse;}"
    "table th,table td{border:1px gainsboro solid;padding:0.3em;}"
    "table th{background:gainsboro;color:#333333;text-align:left;}"
    "table caption{margin-left:inherit;margin-right:inherit;}"
    "tbody tr:nth-child(odd) {background:#eee;}"
    ".rule{font-weight:bold;font-size:80%;}"
    ".rm-cdr{font-size:70%;color:blue;}"
    ".rm-podr{font-size:70%;color:green;}"
    ".version{text-align:center;color:#333333;font-weight:bold;font-family:FranklinGothicMedium;"
    "font-size:50%;margin:0.5em auto;}"
    ".wrapper1{background:#f4f4f4;width:750px;overflow:hidden;padding:1em 2em 1em;margin:0.5em "
    "auto;border-radius:0.2em;box-shadow:0 0 0.5em rgb(100,100,100);color:#767b7e;}"
    ".err{border-top:solid 1px;border-bottom:solid 0px;font-family:arial;margin-left:1em;"
    "margin-bottom:2em;color:rgb(200,200,200);}"
    ".err .err_sub{padding-left:1em;color:red;}"
    ".errsFound{font-size:200%;font-family:arial;color:#333333;padding-top:0.75em;"
    "padding-bottom:1em;}"
    ".errsFound .legend{font-size:50%;font-family:arial;font-weight:bold;}"
    ".noErrs{font-size:200%;font-family:arial;color:rgb(174,229,113);padding:1em 0em;}"
    ".err .critical{font-size:100%;padding-top:0.5em;color:red;}"
    ".err .notcritical{font-size:100%;padding-top:0.5em;color:red;}"
    ".err .err_desc .rmnl{padding-bottom:1em;}"
    ".err .err_desc .islvl0{font-size:85%;font-family:monospace;font-weight:bold;color:#767b7e;}"
    ".err .err_desc .islvl1{font-size:75%;font-family:monospace;color:#767b7e;padding-left:2em;}"
    // A collapsible part opens to its content's own height, however tall; where
    // a browser cannot animate to that height it opens at once.
    ".err .err_desc{clear:both;overflow:hidden;height:0;interpolate-size:allow-keywords;"
    "transition:0.1s ease;font-family:arial;margin-left:1em;color:#333333;}"
    ".err input[type=checkbox]{display:none;}"
    ".err input[type=checkbox] ~ label{display:block;float:right;width:6em;height:2em;"
    "background:#d7d9d9;color:black;border-radius:0.2px;text-align:center;line-height:2;"
    "font-family:arial;font-size:60%;font-weight:bold;}"
    ".err input[type=checkbox] ~ label:hover{background:lightgreen;cursor:pointer;}"
    ".err input[type=checkbox]:checked ~ label{font-weight:normal;}"
    ".err input[type=checkbox]:checked ~ .err_desc{height:auto;transition:0.5s ease;}"
    ".sysinfoentry .title{font-family:arial;font-size:90%;color:gray;}"
    ".sysinfoentry .data{font-size:110%;font-family:arial;color:#333333;padding:0.25em;}"
    ".lpitH .title{font-size:90%;color:gray;}"
    ".lpitH .data{font-size:90%;color:#333333;}"
    ".lpitH .header{text-align:center;}"
    ".lpitH table{width:300px;}"
    ".lpit table{width:300px;}"
    ".lpit{float:left;}"
    ".lpit .title{font-size:90%;color:gray;}"
    ".lpit .data{font-size:90%;color:#333333;}"
    ".lpit .header{text-align:center;}"
    ".rundowns .data{color:#333333;font-family:monospace;font-size:75%;}"
    ".wrapper1 .rundowns table{width:650px;table-layout:initial;}"
    ".wrapper1 .rundowns table td{word-wrap:break-word;}"
    "h4 {font-family:arial;color:#808080;margin:1em 1em 1em 2em;}"
    // Paper has no labels to click: print every part open.
    "@media print{.err .err_desc{height:auto;transition:none;}}";

}  // namespace dormex::html
