// Opens a Dormex report in the installed Chromium and checks that the error
// sections and the internal-state block start collapsed and open when their
// label is clicked, that printing keeps every finding, and, on a large
// machine's report, that the opened internal-state block is not cut. Saves
// screenshots and the printed PDF for a person to look at.
//   node report-test.js <report.html> <artifact folder> [<large report.html>]
const { chromium } = require('playwright-core');
const fs = require('fs');
const path = require('path');

async function height(page, selector) {
  return page.$eval(selector, (element) => element.getBoundingClientRect().height);
}

// Text without its white space (non-breaking blanks included): where a line
// breaks, and whether a PDF keeps a blank between two runs, does not matter.
function squeeze(text) {
  return text.replace(/[\s\u00a0]+/g, '');
}

async function pdfText(pdf) {
  const pdfjs = await import('pdfjs-dist/legacy/build/pdf.mjs');
  const document = await pdfjs.getDocument({ data: new Uint8Array(pdf), verbosity: 0 }).promise;
  let text = '';
  for (let number = 1; number <= document.numPages; ++number) {
    const content = await (await document.getPage(number)).getTextContent();
    text += content.items.map((item) => item.str + (item.hasEOL ? ' ' : '')).join('') + ' ';
  }
  return squeeze(text);
}

async function checkSample(browser, reportPath, artifacts, check) {
  const page = await browser.newPage({ viewport: { width: 1000, height: 1400 } });
  await page.goto('file://' + path.resolve(reportPath));

  check((await page.title()) === '', 'the report has no title element');
  check((await page.textContent('h1')).startsWith('Corva Dormex'), 'title line');
  check((await page.textContent('.sysinfoentry')).includes('Family 6 Model 170 Stepping 4'),
        'system card');
  const summary = await page.textContent('.errsFound');
  check(/^ Found \d+ issue\(s\)$/.test(summary), `error summary "${summary}"`);

  const sections = await page.$$('input[id^="err"]');
  check(sections.length >= 8, `error sections: ${sections.length}`);
  const collapsed = await page.$$eval('.err .err_desc',
    (parts) => parts.map((part) => part.getBoundingClientRect().height));
  check(collapsed.every((h) => h === 0), `collapsed heights ${collapsed}`);
  await page.screenshot({ path: path.join(artifacts, 'report-collapsed.png'), fullPage: true });

  // Paper has no labels to click: every finding's description is printed.
  const descriptions = await page.$$eval('section .err_desc', (parts) => parts.map(
    (part) => part.textContent));
  const pdf = await page.pdf();
  fs.writeFileSync(path.join(artifacts, 'report-printed.pdf'), pdf);
  const printed = await pdfText(pdf);
  const missing = descriptions.filter((text) => !printed.includes(squeeze(text)));
  check(descriptions.length === sections.length && missing.length === 0,
        `printed descriptions: ${missing.length} of ${descriptions.length} missing: ${missing}`);

  await page.click('label[for="err0"]');
  await page.waitForTimeout(700);
  check((await height(page, '#err0 ~ .err_desc')) > 0, 'err0 opens when its label is clicked');
  check((await height(page, '#err1 ~ .err_desc, [id="err1"] ~ .err_desc')) === 0,
        'err1 stays closed');

  await page.click('label[for="rmdump"]');
  await page.waitForTimeout(700);
  check((await height(page, '#rmdump ~ .err_desc')) > 0, 'the internal-state block opens');
  check((await page.textContent('#rmdump ~ .err_desc')).includes('Rule Matches'),
        'the internal-state block holds the rule matches');
  await page.screenshot({ path: path.join(artifacts, 'report-expanded.png'), fullPage: true });
  await page.close();
}

// The opened internal-state block shows all of itself, down to its last rule
// match, however many devices the machine has.
async function checkLarge(browser, reportPath, artifacts, check) {
  const page = await browser.newPage({ viewport: { width: 1000, height: 1400 } });
  await page.goto('file://' + path.resolve(reportPath));
  await page.click('label[for="rmdump"]');
  await page.waitForTimeout(700);
  const block = await page.$eval('#rmdump ~ .err_desc', (part) => ({
    shown: part.clientHeight, content: part.scrollHeight,
    shownWidth: part.clientWidth, contentWidth: part.scrollWidth }));
  check(block.content > 10000 && block.shown >= block.content &&
        block.shownWidth >= block.contentWidth,
        `large internal-state block shows ${block.shown} of ${block.content} px in height, ` +
        `${block.shownWidth} of ${block.contentWidth} px in width`);
  const last = await page.evaluate(() => {
    const items = document.querySelectorAll('.rulematches li');
    const lastItem = items[items.length - 1];
    // Only the page scrolls, as a reader's wheel would: scrollIntoView would
    // also scroll the block's hidden overflow and reveal what a reader cannot.
    window.scrollBy(0, lastItem.getBoundingClientRect().top - window.innerHeight / 2);
    const box = lastItem.getBoundingClientRect();
    const hit = document.elementFromPoint(box.left + 2, box.top + box.height / 2);
    return { text: lastItem.textContent, seen: hit !== null && lastItem.contains(hit) };
  });
  check(last.seen, `the last rule match "${last.text}" is visible`);
  await page.screenshot({ path: path.join(artifacts, 'large-report-end.png') });
  await page.close();
}

// dormex-lab's summary of the sample and a copy with one problem code
// mended: nothing is fetched, a heading sorts its table, the box filters rows.
async function checkLabSummary(browser, summaryPath, artifacts, check) {
  const page = await browser.newPage({ viewport: { width: 1366, height: 900 } });
  await page.goto('file://' + path.resolve(summaryPath));
  check((await page.$$('[src], [href]')).length === 0, 'the summary page refers to other files');
  const counts = await page.textContent('#counts');
  check(counts === '2 runs of 1 machine configuration, 10 distinct findings, 0 runs stopped',
        `summary counts "${counts}"`);
  const firstCounts = () => page.$$eval('table:first-of-type tbody tr:not([hidden])',
    (rows) => rows.map((row) => row.cells[0].textContent));
  check((await firstCounts()).join() === '2,2,2,2,2,2,2,2,2,1', 'largest groups first');
  await page.click('table:first-of-type th:first-child');
  check((await firstCounts())[0] === '2', 'a first click sorts from the largest');
  await page.click('table:first-of-type th:first-child');
  check((await firstCounts())[0] === '1', 'a second click sorts from the smallest');
  await page.fill('#filter', 'vid_2f4a');
  const shown = await page.$$eval('table:first-of-type tbody tr:not([hidden])',
    (rows) => rows.map((row) => row.cells[1].textContent));
  check(shown.length === 1 && shown[0].includes('USB\\VID_2F4A&PID_0C11'),
        `the filter leaves ${shown}`);
  await page.screenshot({ path: path.join(artifacts, 'lab-summary-filtered.png'), fullPage: true });
  await page.close();
}

// dormex-lab show: groups start folded with their counts, the search box
// finds a device's finding and opens its groups, devices are in natural
// order, and the printed page keeps every finding's text.
async function checkLabShow(browser, showPath, artifacts, check, device) {
  for (const width of [1366, 1920]) {
    const page = await browser.newPage({ viewport: { width, height: 900 } });
    const started = Date.now();
    await page.goto('file://' + path.resolve(showPath));
    const loaded = Date.now() - started;
    check(loaded < 2000, `${showPath} loads in ${loaded} ms at ${width} px`);
    check((await page.$$('[src], [href]')).length === 0, 'the show page refers to other files');
    const folded = await page.$$eval('.group', (groups) => groups.every((group) =>
      !group.classList.contains('open') && /\(\d+\)$/.test(group.querySelector('button').textContent)));
    check(folded, 'every group starts folded, with its count');
    check(await page.$eval('body', (body) => body.scrollWidth <= window.innerWidth),
          `nothing wider than the window at ${width} px`);
    await page.fill('#search', device);
    const found = await page.$$eval('.finding', (findings) => findings
      .filter((finding) => finding.getClientRects().length > 0)
      .map((finding) => finding.querySelector('h3').textContent));
    check(found.length >= 1 && found.every((name) => name === device),
          `searching "${device}" shows ${found.length} findings: ${found.slice(0, 3)}`);
    await page.screenshot({ path: path.join(artifacts, `lab-show-${width}-search-${path.basename(showPath, '.html')}.png`) });
    await page.close();
  }
  const page = await browser.newPage({ viewport: { width: 1366, height: 900 } });
  await page.goto('file://' + path.resolve(showPath));
  const names = await page.$$eval('.group .group', (groups) => groups.map((group) =>
    Array.from(group.querySelectorAll('.finding h3'), (h3) => h3.textContent)));
  const natural = (a, b) => a.localeCompare(b, 'en', { numeric: true });
  check(names.every((list) => list.every((name, i) => i === 0 || natural(list[i - 1], name) <= 0)),
        'devices in natural order within each group');
  const texts = await page.$$eval('.finding', (findings) => findings.map((f) => f.textContent));
  const printed = await pdfText(await page.pdf({ format: 'A4' }));
  const lost = texts.filter((text) => !printed.includes(squeeze(text)));
  check(lost.length === 0, `printing loses ${lost.length} of ${texts.length} findings: ${lost[0]}`);
  await page.close();
}

async function main() {
  const [reportPath, artifacts, largeReportPath] = process.argv.slice(2);
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  const failures = [];
  const check = (ok, what) => { if (!ok) failures.push(what); };
  try {
    await checkSample(browser, reportPath, artifacts, check);
    if (largeReportPath) {
      await checkLarge(browser, largeReportPath, artifacts, check);
    }
    if (process.env.LAB_SUMMARY) {
      await checkLabSummary(browser, process.env.LAB_SUMMARY, artifacts, check);
    }
    if (process.env.LAB_SHOW_SAMPLE) {
      await checkLabShow(browser, process.env.LAB_SHOW_SAMPLE, artifacts, check,
                         'Zephlink ZL-200 Port Controller');
    }
    if (process.env.LAB_SHOW_LARGE) {
      await checkLabShow(browser, process.env.LAB_SHOW_LARGE, artifacts, check,
                         'Synthetic Device 1067');
    }
  } finally {
    await browser.close();
  }
  if (failures.length > 0) {
    console.log('FAILED: ' + failures.join('; '));
    process.exit(1);
  }
  console.log('report checks passed; screenshots in ' + artifacts);
}

main().catch((error) => { console.error(error); process.exit(1); });
