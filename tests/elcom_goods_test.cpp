// quorvel_elcom goods operations: what reaches the register and the report when several jobs
// run one after another in one host process (the plug-in stays mapped between jobs), and goods
// whose prices the register's price field cannot carry.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/elcom_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

using quorvel::test::elcom::ElcomJob;

}  // namespace

TEST(ElcomGoods, PackagesOfAnEarlierJobDoNotSurviveIntoTheNext) {
  // A host process may keep the plug-in mapped between jobs (the dynamic linker keeps a module
  // that another reference or a unique symbol holds): nothing of one job may reach the next.
  ASSERT_NE(::dlopen(QUORVEL_LIB_DIR "/quorvel_elcom.so", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE), nullptr) << ::dlerror();
  ElcomJob job(1);
  // The register holds package 7; a job sending package 3 reads it back as the register's own.
  job.writeJob("PrzesyłanieTowarów", "<Towar><Id>30</Id><Ty>O</Ty><KP>7</KP><Na>Skrzynka</Na><Ce>5.00</Ce></Towar>\n");
  job.runInProcess();
  job.writeJob("PrzesyłanieTowarów", "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n");
  job.runInProcess();
  ASSERT_TRUE(contains(job.show(), "Opakowanie  7  Opakowanie 7          cena 5.00")) << job.show();

  // The next job in the same process deletes package 7, naming it with its price: it is gone.
  job.writeJob("UsuwanieTowarów", "<Towar><Id>30</Id><Ty>O</Ty><KP>7</KP><Na>Skrzynka</Na><Ce>5.00</Ce></Towar>\n");
  job.runInProcess();
  const std::string shown = job.show();
  EXPECT_FALSE(contains(shown, "Opakowanie  7")) << shown;
  EXPECT_TRUE(contains(shown, "Opakowanie  3  Opakowanie 3          cena 0.50")) << shown;
  EXPECT_TRUE(contains(job.progKom(), "<Towar><Id>30</Id></Towar>")) << job.progKom();
}

TEST(ElcomGoods, PricesTheRegisterCannotHoldAreNotSent) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów",
               "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><Na>Chleb</Na><Ce>2.50</Ce><Va>1</Va></Towar>\n"
               "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP><Na>Zwrot</Na><Ce>-5.00</Ce><Va>1</Va></Towar>\n"
               "<Towar><Id>13</Id><Ty>T</Ty><KP>3</KP><Na>Jacht</Na><Ce>42949673.00</Ce><Va>1</Va></Towar>\n"
               "<Towar><Id>14</Id><Ty>T</Ty><KP>4</KP><Na>Zwrot otwarty</Na><Ce>-1</Ce><CO>1</CO><Va>1</Va></Towar>\n"
               "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>-0.50</Ce></Towar>\n");
  job.run();
  const std::string raport = job.raport();
  // The goods and the package are named in one warning, before anything is sent; nothing
  // wrapped reaches the register.
  EXPECT_TRUE(contains(raport, "<Treść>Cena (Ce) spoza zakresu kasy 0-999999.99 - pominięto</Treść>\r\n"
                               "\t\t<Towar>12</Towar>\r\n\t\t<Towar>13</Towar>\r\n\t\t<Towar>14</Towar>\r\n"
                               "\t\t<Towar>31</Towar>\r\n\t</Komunikat>"))
      << raport;
  EXPECT_TRUE(contains(job.progKom(), "<Dane operacja=\"PrzesyłanieTowarów\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">"
                                      "\r\n\t<Towar><Id>11</Id></Towar>\r\n</Dane>"))
      << job.progKom();
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, ", 1 PLU")) << shown;
  EXPECT_TRUE(contains(shown, "cena 2.50")) << shown;
  EXPECT_FALSE(contains(shown, "Opakowanie  3")) << shown;
  EXPECT_EQ(quorvel::test::schemaErrors(job.file("RAPORT.XML"), "Raport.xsd"), "");
}

TEST(ElcomGoods, APriceBelowOneHundredthIsAZeroPrice) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów",
               "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><Na>Chleb</Na><Ce>0.004</Ce><Va>1</Va></Towar>\n"
               "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP><Na>Masło</Na><Ce>0.009</Ce><CO>1</CO><Va>1</Va></Towar>\n");
  job.run();
  EXPECT_TRUE(contains(job.raport(), "<Treść>Towar z zerową ceną i bez znacznika ceny otwartej został pominięty</Treść>"
                                     "\r\n\t\t<Towar>11</Towar>\r\n\t</Komunikat>"))
      << job.raport();
  // The open-price goods still goes out.
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, ", 1 PLU")) << shown;
  EXPECT_FALSE(contains(shown, "Chleb")) << shown;
  EXPECT_TRUE(contains(shown, "cena otwarta")) << shown;
}
