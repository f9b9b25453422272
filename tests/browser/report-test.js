// Opens a Dormex report in the installed Chromium and checks that the error
// sections and the internal-state block start collapsed and open when their
// label is clicked. Saves screenshots for a person to look at.
//   node report-test.js <report.html> <artifact folder>
const { chromium } = require('playwright-core');
const path = require('path');

async function height(page, selector) {
  return page.$eval(selector, (element) => element.getBoundingClientRect().height);
}

async function main() {
  const [reportPath, artifacts] = process.argv.slice(2);
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  const failures = [];
  const check = (ok, what) => { if (!ok) failures.push(what); };
  try {
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
